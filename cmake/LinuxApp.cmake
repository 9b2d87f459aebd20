# The Linux/desktop front end (Qt 6 Widgets).

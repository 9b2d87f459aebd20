# The native Win32 front end.

# The controller's side of the role's module companymain_config: takes each value from its
# inventory variable and renders it here, so that a value that cannot be rendered (a variable
# undefined inside it, a template syntax error) or is no text fails the task naming the
# variable. In a dictionary built in the task, a value whose template fails becomes undefined
# and default(none) turns it into "not given": the host would keep its old value without a
# word.

from ansible.errors import AnsibleError
from ansible.plugins.action import ActionBase

UNSAFE = "write a value that holds {{ or {% as text as !unsafe \"...\""


def not_text(value):
    """Why a rendered value is no text for the tool, or None when it is text."""
    if isinstance(value, str):
        return None
    if value is None:
        return ("null (nothing after the colon) is no text: quote it (\"\" for an empty value), "
                "or leave the variable out to keep what the PC has")
    if isinstance(value, bool):
        return ("%s is a YAML boolean, not text (YAML reads yes, no, true, false, on and off "
                "unquoted as booleans): quote it" % str(value).lower())
    if isinstance(value, (int, float)):
        return ("%s is a YAML number, not text (YAML reads 0123 as 83 and 1.50 as 1.5): quote "
                "the value as written, e.g. \"0123\"" % value)
    return "a %s is no text: give one quoted value" % type(value).__name__


class ActionModule(ActionBase):
    _VALID_ARGS = frozenset(("command", "variables"))

    def run(self, tmp=None, task_vars=None):
        result = super().run(tmp, task_vars)
        task_vars = task_vars or {}
        variables = self._task.args.get("variables") or {}
        values = {}
        for field, name in variables.items():
            # Undefined: not given, the host keeps what it has.
            if name not in task_vars:
                continue
            try:
                value = self._templar.template(task_vars[name])
            except AnsibleError as error:
                # Jinja's own words ("'b' is undefined"), without Ansible's repetitions.
                cause = error
                while isinstance(getattr(cause, "orig_exc", None), Exception):
                    cause = cause.orig_exc
                result.update(failed=True, msg="%s: cannot be rendered: %s (%s)."
                              % (name, str(cause).rstrip("."), UNSAFE))
                return result
            # "{{ ... | default(omit) }}" asks for no value.
            if value == task_vars.get("omit"):
                continue
            why = not_text(value)
            if why:
                result.update(failed=True, msg="%s: %s." % (name, why))
                return result
            values[field] = value
        if not values:
            result.update(skipped=True, skip_reason="none of %s is defined"
                          % ", ".join(sorted(variables.values())))
            return result
        result.update(self._execute_module(
            module_args=dict(command=self._task.args.get("command"), values=values,
                             variables=variables),
            task_vars=task_vars))
        return result

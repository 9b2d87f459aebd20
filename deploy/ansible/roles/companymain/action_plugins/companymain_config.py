# The controller's side of the role's module companymain_config: takes each value from its
# inventory variable and renders it here, so that a value that cannot be rendered (a variable
# undefined inside it, a template syntax error) or is no text fails the task naming the
# variable. In a dictionary built in the task, a value whose template fails becomes undefined
# and default(none) turns it into "not given": the host would keep its old value without a
# word.
# A vaulted value is decrypted here and taken as the text it holds; it goes to the module as a
# no_log parameter, which keeps it out of the module's log line, its messages and its diff.

from collections.abc import Mapping

from ansible.errors import AnsibleError
from ansible.parsing.vault import is_encrypted_file
from ansible.plugins.action import ActionBase

UNSAFE = "write a value that holds {{ or {% as text as !unsafe \"...\""


def not_text(value, secret=False):
    """Why a rendered value is no text for the tool, or None when it is text. A secret one is
    not shown."""
    if isinstance(value, str):
        return None
    if secret and isinstance(value, (bool, int, float)):
        return ("its value in the vault-encrypted file is a YAML %s, not text: quote it there"
                % ("boolean" if isinstance(value, bool) else "number"))
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


def vaulted_names(loader):
    """The variables that the vault-encrypted files Ansible has read define: Ansible decrypts
    such a file as it loads it, and its values reach the task as plain ones, unmarked: the
    loader's cache of the files it read (a private attribute, hence getattr) is the one trace."""
    names = set()
    for path, data in list(getattr(loader, "_FILE_CACHE", {}).items()):
        if not isinstance(data, Mapping):
            continue
        try:
            with open(path, "rb") as f:
                if is_encrypted_file(f):
                    names.update(data)
        except OSError:
            continue
    return names


class ActionModule(ActionBase):
    _VALID_ARGS = frozenset(("command", "variables"))

    def run(self, tmp=None, task_vars=None):
        result = super().run(tmp, task_vars)
        task_vars = task_vars or {}
        variables = self._task.args.get("variables") or {}
        values, secrets = {}, {}
        from_files = vaulted_names(self._loader)
        for field, name in variables.items():
            # Undefined: not given, the host keeps what it has.
            if name not in task_vars:
                continue
            raw = task_vars[name]
            vaulted = getattr(raw, "__ENCRYPTED__", False)
            secret = vaulted or name in from_files
            if vaulted:
                # !vault: Ansible's templating hands the object back as it is. Its text is
                # taken as written, not rendered (Ansible renders no vaulted value either).
                try:
                    if raw.vault is None:  # .data would give the ciphertext
                        raise AnsibleError("no vault to decrypt it with")
                    value = raw.data
                except AnsibleError as error:
                    result.update(failed=True, msg="%s: the vaulted value cannot be decrypted "
                                  "with the vault password given (--vault-password-file or "
                                  "--ask-vault-pass): %s." % (name, str(error).rstrip(".")))
                    return result
            else:
                try:
                    value = self._templar.template(raw)
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
            why = not_text(value, secret)
            if why:
                result.update(failed=True, msg="%s: %s." % (name, why))
                return result
            (secrets if secret else values)[field] = value
        if not values and not secrets:
            result.update(skipped=True, skip_reason="none of %s is defined"
                          % ", ".join(sorted(variables.values())))
            return result
        result.update(self._execute_module(
            module_args=dict(command=self._task.args.get("command"), values=values,
                             secret_values=secrets, variables=variables),
            task_vars=task_vars))
        return result

#!/usr/bin/python3
# The role's own module: hands the values to companymain-config as a JSON object on standard
# input (--values-from -), because the command module of ansible-core before 2.16 expands $NAME,
# ${NAME} and a leading ~ in every argument and no option turns that off. The tool's --json
# output says what changed; its show --json gives the values before and after for --diff.

import json

from ansible.module_utils.basic import AnsibleModule

DOCUMENTATION = r"""
module: companymain_config
short_description: Writes CompanyMain's page address or company identity with companymain-config
description:
  - Runs C(companymain-config --json --values-from - set-address) or C(set-company), with
    C(--dry-run) in check mode. A value left out keeps what the host has.
options:
  command: {description: set-address or set-company, required: true, type: str}
  values:
    description: The values by the tool's names (url; number, type, name, device-id,
      upload-user, other), as texts; a missing or null one is not given. The controller side
      (action_plugins/companymain_config.py) fills them in from the variables.
    required: true
    type: dict
  secret_values:
    description: Values as I(values) whose text never shows (decrypted vaulted ones).
    type: dict
  variables:
    description: The inventory variable of each value, which the controller side renders and
      a refused value's message names.
    type: dict
"""

FIELDS = {"set-address": ["url"],
          "set-company": ["number", "type", "name", "device-id", "upload-user", "other"]}
OPTIONS = {"url": "URL", "number": "--number", "type": "--type", "name": "--name",
           "device-id": "--device-id", "upload-user": "--upload-user", "other": "--other"}


def text(value):
    """A value as the tool takes it: text. The role's controller side renders each variable and
    refuses what is no text (a YAML number has lost its leading zeros already: 0123 is 83)."""
    if not isinstance(value, str):
        raise ValueError("is no text but a %s: quote it" % type(value).__name__)
    return value


def run_tool(module, tool, args, data=None):
    # expand_user_and_vars=False: the arguments are the tool's options, never values; still
    # nothing of them is to be rewritten.
    rc, out, err = module.run_command([tool] + args, data=data, binary_data=True,
                                      expand_user_and_vars=False,
                                      environ_update={"LC_ALL": "C.UTF-8"})
    try:
        result = json.loads(out)
    except ValueError:
        result = None
    return rc, result, out, err


def shown(values, fields):
    return "".join("%s=%s\n" % (f, "" if values.get(f) is None else values[f]) for f in fields)


def main():
    module = AnsibleModule(
        argument_spec=dict(command=dict(type="str", required=True, choices=list(FIELDS)),
                           values=dict(type="dict", required=True),
                           # no_log: left out of the log line, and masked in every message
                           # and the diff.
                           secret_values=dict(type="dict", default={}, no_log=True),
                           variables=dict(type="dict", default={})),
        supports_check_mode=True)
    command = module.params["command"]
    fields = FIELDS[command]
    variables = module.params["variables"] or {}
    given = {}
    for field, value in {**(module.params["values"] or {}),
                         **(module.params["secret_values"] or {})}.items():
        if field not in fields:
            module.fail_json(msg="%s takes no value %r" % (command, field))
        if value is None:
            continue
        try:
            given[field] = text(value)
        except ValueError as error:
            module.fail_json(msg="%s: %s" % (variables.get(field, field), error))
    if not given:
        module.exit_json(changed=False, msg="no value given")

    tool = module.get_bin_path("companymain-config")
    if tool is None:
        if module.check_mode:
            # The package is not installed yet: the real run installs it, and a fresh
            # installation holds none of these values.
            module.exit_json(changed=True, msg="check mode: companymain-config is not installed "
                             "yet; every value given would be written",
                             diff=dict(before="", after=shown(given, sorted(given)),
                                       after_header="(a fresh installation)"))
        module.fail_json(msg="companymain-config is not installed on the host")

    rc, before, out, err = run_tool(module, tool, ["--json", "show"])
    before = before if rc == 0 and isinstance(before, dict) else {}

    args = ["--json"] + (["--dry-run"] if module.check_mode else []) + ["--values-from", "-",
                                                                          command]
    data = json.dumps(given, ensure_ascii=False).encode("utf-8")
    rc, result, out, err = run_tool(module, tool, args, data)
    if not isinstance(result, dict):
        module.fail_json(msg="companymain-config %s gave no JSON (exit code %d): %s"
                         % (command, rc, (out + err).strip()), rc=rc)
    if rc != 0 or "error" in result:
        # The tool names the refused value by its field; the message names the variable.
        field = result.get("field")
        if field is None:
            named = [f for f in given if OPTIONS[f] in result.get("error", "")]
            field = named[0] if len(named) == 1 else (fields[0] if len(fields) == 1 else None)
        who = variables.get(field, field) if field else " or ".join(
            variables.get(f, f) for f in sorted(given))
        module.fail_json(msg="%s: %s" % (who, result.get("error", "exit code %d" % rc)),
                         rc=rc, field=field, tool=result)

    # What the tool warns of (an address that already holds a query) is shown, not refused.
    for warning in result.get("warnings") or []:
        module.warn("%s: %s" % (variables.get(warning.get("field"), warning.get("field")),
                                warning.get("message")))
    after = dict(before)
    if result["changed"]:
        if module.check_mode:
            after.update(given)
        else:
            rc, now, out, err = run_tool(module, tool, ["--json", "show"])
            after = now if rc == 0 and isinstance(now, dict) else dict(before, **given)
    # The old value of a secret field is a secret as well (Ansible masks the new one alone):
    # the diff says only whether it was the same.
    for field in module.params["secret_values"] or {}:
        if before.get(field):
            before[field] = "********" if before[field] == after.get(field) else "(not shown)"
    diff = dict(before=shown(before, fields), after=shown(after, fields),
                before_header=result.get("file", ""), after_header=result.get("file", ""))
    module.exit_json(changed=result["changed"], dry_run=module.check_mode,
                     file=result.get("file"), fields=result.get("fields", []), diff=diff)


if __name__ == "__main__":
    main()

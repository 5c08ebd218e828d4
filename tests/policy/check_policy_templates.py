#!/usr/bin/env python3
"""Checks the Group Policy templates against the code that reads the policy.

The ADMX and its en-US ADML must be well-formed; every string and
presentation they refer to must exist; every presentation control must name
an element of its policy; and the key and the value names the templates write
(and the texts of the ProxyMode choices) must be exactly those that
stub/MachinePolicy.cpp reads.

    check_policy_templates.py ADMX_FOLDER MACHINE_POLICY_CPP
"""
import re
import sys
import xml.etree.ElementTree as ET
from pathlib import Path

NS = {"p": "http://schemas.microsoft.com/GroupPolicy/2006/07/PolicyDefinitions"}
TEMPLATE = "kvantor_nx_upgrade"
REFERENCE = re.compile(r"^\$\((string|presentation)\.([^)]+)\)$")


def read_code(cpp_path):
    """The key, the value names and the ProxyMode texts the reader uses."""
    code = Path(cpp_path).read_text(encoding="utf-8")
    key = re.search(r'kMachinePolicyKey\[\]\s*=\s*L"((?:[^"\\]|\\.)*)"', code)
    if not key:
        raise SystemExit(f"{cpp_path}: kMachinePolicyKey not found")
    names = set(re.findall(r'ReadPolicyText\(\s*[^,]+,\s*L"([^"]+)"\s*\)', code))
    table = re.search(r"kModeNames\[\]\s*=\s*\{(.*?)\};", code, re.S)
    modes = set(re.findall(r'\{\s*L"([^"]+)"\s*,', table.group(1))) if table else set()
    if not names or not modes:
        raise SystemExit(f"{cpp_path}: no policy value names or ProxyMode texts found")
    return key.group(1).replace("\\\\", "\\"), names, modes


def problems(admx, adml, key, names, modes):
    found = []
    strings = {s.get("id") for s in adml.iterfind(".//p:stringTable/p:string", NS)}
    presentations = {p.get("id"): p for p in adml.iterfind(".//p:presentationTable/p:presentation", NS)}
    for element in admx.iter():
        for attribute, value in element.attrib.items():
            match = REFERENCE.match(value)
            if not match:
                continue
            kind, name = match.groups()
            if name not in (strings if kind == "string" else presentations):
                found.append(f"{attribute}={value}: no {kind} '{name}' in the ADML")
    defined = {c.get("name") for c in admx.iterfind(".//p:category", NS)}
    defined |= {d.get("name") for d in admx.iterfind(".//p:supportedOn/p:definitions/p:definition", NS)}
    for ref in list(admx.iterfind(".//p:parentCategory", NS)) + list(admx.iterfind(".//p:policy/p:supportedOn", NS)):
        if ref.get("ref") not in defined:
            found.append(f"category or supportedOn '{ref.get('ref')}' is not defined")
    written = set()
    for policy in admx.iterfind(".//p:policies/p:policy", NS):
        name = policy.get("name")
        if policy.get("class") != "Machine":
            found.append(f"policy {name}: class '{policy.get('class')}', not Machine")
        if policy.get("key") != key:
            found.append(f"policy {name}: key '{policy.get('key')}', the tool reads '{key}'")
        holder = policy.find("p:elements", NS)
        elements = {e.get("id"): e for e in (list(holder) if holder is not None else [])}
        if not elements:
            found.append(f"policy {name}: no element writes a value")
        for element in elements.values():
            written.add(element.get("valueName"))
            if element.tag == f"{{{NS['p']}}}enum":
                texts = {v.text for v in element.iterfind("p:item/p:value/p:string", NS)}
                if element.get("valueName") == "ProxyMode" and texts != modes:
                    found.append(f"ProxyMode choices {sorted(texts)}, the tool knows {sorted(modes)}")
        match = REFERENCE.match(policy.get("presentation") or "")
        presentation = presentations.get(match.group(2)) if match else None
        if presentation is None:
            continue
        shown = {control.get("refId") for control in presentation if control.get("refId")}
        for ref in shown - set(elements):
            found.append(f"presentation {match.group(2)}: refId '{ref}' is no element of policy {name}")
        for element in set(elements) - shown:
            found.append(f"policy {name}: element '{element}' has no control in its presentation")
    if written != names:
        found.append(f"the templates write {sorted(written)}, the tool reads {sorted(names)}")
    return found


def main(argv):
    if len(argv) != 3:
        raise SystemExit(__doc__)
    folder = Path(argv[1])
    try:
        admx = ET.parse(folder / f"{TEMPLATE}.admx").getroot()
        adml = ET.parse(folder / "en-US" / f"{TEMPLATE}.adml").getroot()
    except (ET.ParseError, OSError) as error:
        print(f"template not well-formed or missing: {error}")
        return 1
    key, names, modes = read_code(argv[2])
    found = problems(admx, adml, key, names, modes)
    for problem in found:
        print(problem)
    if not found:
        print(f"templates match the {len(names)} values under HKLM\\{key}")
    return 1 if found else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))

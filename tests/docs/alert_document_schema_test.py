#!/usr/bin/env python3
"""Fails when an alert document kept on disk does not match docs/alert-document.schema.json, the
published shape of what a service should send.

The documents are every *.json under tests/fixtures and docs/examples: the demo's and the examples
for the people who write alert documents. Documents built inside the C++ tests, many malformed on
purpose, are not held to it. The demo's documents name the service's port as {{PUERTO}}, filled in
when they are served, and are checked as served. Each document must be strict UTF-8 JSON without a
key twice, and between them they must show every kind of alert the schema names, so each part of
the schema meets a real document.

Usage: alert_document_schema_test.py SOURCE_ROOT
"""
import json
import pathlib
import sys

import jsonschema

SCHEMA = "docs/alert-document.schema.json"
DOCUMENT_FOLDERS = ("tests/fixtures", "docs/examples")
PORT_PLACEHOLDER = "{{PUERTO}}"


def without_duplicate_keys(pairs):
    keys = [key for key, _ in pairs]
    twice = sorted({key for key in keys if keys.count(key) > 1})
    if twice:
        raise ValueError(f"key given twice: {', '.join(twice)}")
    return dict(pairs)


def path_text(path):
    text = "$"
    for part in path:
        text += f"[{part}]" if isinstance(part, int) else f".{part}"
    return text


def check(document_path, validator):
    """The first fault of one document, or None."""
    try:
        text = document_path.read_text(encoding="utf-8")
        document = json.loads(text.replace(PORT_PLACEHOLDER, "47321"), object_pairs_hook=without_duplicate_keys)
    except (UnicodeDecodeError, ValueError) as error:
        return None, f"not strict UTF-8 JSON: {error}"
    error = jsonschema.exceptions.best_match(validator.iter_errors(document))
    if error is not None:
        return document, f"at {path_text(error.absolute_path)}: {error.message}"
    return document, None


def main():
    root = pathlib.Path(sys.argv[1])
    schema = json.loads((root / SCHEMA).read_text(encoding="utf-8"))
    jsonschema.Draft202012Validator.check_schema(schema)
    validator = jsonschema.Draft202012Validator(schema)
    documents = sorted(p for folder in DOCUMENT_FOLDERS for p in (root / folder).rglob("*.json") if p.is_file())
    if not documents:
        print(f"no alert documents under {', '.join(DOCUMENT_FOLDERS)}")
        return 1
    failed = 0
    kinds_seen = set()
    for document_path in documents:
        name = document_path.relative_to(root)
        document, fault = check(document_path, validator)
        if fault:
            failed += 1
            print(f"{name}: {fault}")
            continue
        kinds_seen.update(alert["tipo"] for alert in document["alertas"])
        print(f"{name}: matches ({len(document['alertas'])} alerts)")
    kinds = schema["$defs"]["alert"]["properties"]["tipo"]["enum"]
    unseen = [kind for kind in kinds if kind not in kinds_seen]
    if unseen and not failed:
        print(f"no document on disk shows an alert of kind {', '.join(unseen)}: add an example to docs/examples")
        return 1
    print(f"{len(documents) - failed} of {len(documents)} documents match {SCHEMA}")
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())

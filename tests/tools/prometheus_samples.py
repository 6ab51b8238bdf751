#!/usr/bin/python3
"""Reads the Prometheus text format in FILE with the reference parser (python3-prometheus-client)
and prints one line per sample: its name, then its labels and value as one JSON object. Exits
non-zero when the parser refuses the text."""

import json
import sys

from prometheus_client.parser import text_string_to_metric_families

with open(sys.argv[1], encoding="utf-8") as text:
    for family in text_string_to_metric_families(text.read()):
        for sample in family.samples:
            print(sample.name, json.dumps(dict(sample.labels, value=sample.value)))

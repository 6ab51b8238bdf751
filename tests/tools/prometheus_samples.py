#!/usr/bin/python3
"""Reads the Prometheus text format on stdin with the reference parser (python3-prometheus-client)
and prints each sample as one JSON line: name, labels, value, and its family's type. Exits
non-zero when the parser refuses the text."""

import json
import sys

from prometheus_client.parser import text_string_to_metric_families

for family in text_string_to_metric_families(sys.stdin.read()):
    for sample in family.samples:
        print(json.dumps({"name": sample.name, "labels": sample.labels, "value": sample.value,
                          "type": family.type}))

#!/usr/bin/env bash
# What the machine looks like now (load, memory, free disk), printed when a
# suite fails, for telling a fault from a starved machine.
echo "== machine at the failure:"
uptime
free -m
df -h . /tmp

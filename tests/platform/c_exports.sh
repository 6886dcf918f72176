#!/bin/sh
# The bundled platform libraries export their API with C linkage, as the
# platform's do, and nothing of their C++ insides.
# Usage: c_exports.sh <library>...
status=0
for lib in "$@"; do
	mangled=$(nm -D --defined-only "$lib" | awk '$3 ~ /^_Z/ { print $3 }')
	if [ -n "$mangled" ]; then
		echo "$lib exports C++ names:"
		echo "$mangled" | c++filt
		status=1
	fi
	if ! nm -D --defined-only "$lib" | awk '$2 == "T" && $3 !~ /^_/' | grep -q .; then
		echo "$lib exports no C function"
		status=1
	fi
done
exit $status

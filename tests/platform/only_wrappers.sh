#!/bin/sh
# C++ code reaches the platform's C headers only through the wrappers under
# wlc/c/: the platform's headers carry no C++ guards, so a direct include
# refers to functions the platform's libraries do not have.
# Usage: only_wrappers.sh <source dir>
cd "$1" || exit 2
found=$(grep -rlE '^[[:space:]]*#[[:space:]]*include[[:space:]]*[<"](libubox/|libubus\.h|ubusmsg\.h|ubus_common\.h|uci\.h|swlib\.h)' \
	--include='*.cc' --include='*.cpp' --include='*.h' --include='*.hpp' . |
	grep -vE '^\./(platform/include|platform/swconfig/include|platform/cxx/include/wlc/c)/' |
	grep -vE '^\./build[^/]*/')
if [ -n "$found" ]; then
	echo "platform headers included directly (use <wlc/c/...>):"
	echo "$found"
	exit 1
fi

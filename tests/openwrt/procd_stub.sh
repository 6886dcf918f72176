# Stand-ins for the shell functions an init script takes from OpenWrt's
# /lib/functions.sh and procd.sh, enough to run start_service here: UCI files
# are read from $UCI_CONFIG_DIR, and the instance's command line is printed
# (one argument a line) when the instance is closed.

# config_load <package>: reads "config", "option" and "list" lines.
config_load() {
	local kind name value n section=""
	while read -r kind name value; do
		value=${value#\'}; value=${value%\'}
		name=${name#\'}; name=${name%\'}
		case "$kind" in
			config)
				STUB_count=$(( ${STUB_count:-0} + 1 ))
				section=${value:-cfg$STUB_count}
				eval "STUB_type_$section=\$name"
				STUB_sections="$STUB_sections $section" ;;
			option) eval "STUB_${section}_${name}=\$value" ;;
			list)
				eval "n=\$(( \${STUB_${section}_${name}_n:-0} + 1 ))"
				eval "STUB_${section}_${name}_n=\$n STUB_${section}_${name}_$n=\$value" ;;
		esac
	done < "$UCI_CONFIG_DIR/$1"
}

# config_foreach <function> <type>: the function for each section of that type, in order.
config_foreach() {
	local fn=$1 type=$2 section t
	for section in $STUB_sections; do
		eval "t=\$STUB_type_$section"
		[ "$t" = "$type" ] && "$fn" "$section"
	done
	return 0
}

# config_get <var> <section> <option> [default]
config_get() {
	eval "$1=\${STUB_$2_$3-\$4}"
}

config_get_bool() {
	local v
	config_get v "$2" "$3" "$4"
	case "$v" in
		1|on|true|yes|enabled) eval "$1=1" ;;
		*) eval "$1=0" ;;
	esac
}

# config_list_foreach <section> <option> <function> [args...]
config_list_foreach() {
	local section=$1 option=$2 fn=$3 n i=1 v
	shift 3
	eval "n=\${STUB_${section}_${option}_n:-0}"
	while [ "$i" -le "$n" ]; do
		eval "v=\$STUB_${section}_${option}_$i"
		"$fn" "$v" "$@"
		i=$((i + 1))
	done
}

procd_open_instance() { STUB_CMD=""; }

procd_set_param() {
	local what=$1
	shift
	[ "$what" = command ] || return 0
	STUB_CMD=""
	procd_append_param command "$@"
}

procd_append_param() {
	local what=$1 a
	shift
	[ "$what" = command ] || return 0
	for a in "$@"; do
		STUB_CMD="$STUB_CMD$a
"
	done
}

# Instances are separated by a "|" line.
procd_close_instance() { printf '%s|\n' "$STUB_CMD"; }
procd_add_reload_trigger() { :; }

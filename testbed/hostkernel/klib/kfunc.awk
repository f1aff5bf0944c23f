# Cuts function definitions out of a kernel C file, unchanged, for a file
# that cannot be compiled whole on the host (CMakeLists.txt):
#
#   awk -v want="skip_atoi vsscanf" -f kfunc.awk lib/vsprintf.c
#
# A definition starts at a line in column 0 naming the function before "("
# (with the line of specifiers above it, e.g. "static noinline_for_stack"),
# has its "{" in column 0, and ends at the next "}" in column 0 -- the
# kernel's coding style. Each one is printed after a #line for the compiler's
# messages. Fails unless every wanted function is found exactly once.

BEGIN {
	n = split(want, names, " ")
	for (i = 1; i <= n; i++)
		count[names[i]] = 0
	state = 0	# 0 outside, 1 head seen (until "{"), 2 in the body
	decl = ""	# the line of specifiers only just above, if any
}

function start_of(line,    i, re) {
	for (i = 1; i <= n; i++) {
		re = "(^|[^A-Za-z0-9_])" names[i] "\\("
		if (line ~ /^[A-Za-z_]/ && line ~ re)
			return names[i]
	}
	return ""
}

state == 2 {
	print
	if ($0 ~ /^}/)
		state = 0
	next
}

state == 1 {
	head = head "\n" $0
	if ($0 ~ /^{/) {
		count[fn]++
		print head
		state = 2
	} else if ($0 ~ /;[ \t]*$/) {
		state = 0	# a declaration, not the definition
	}
	next
}

{
	fn = start_of($0)
	if (fn != "" && $0 !~ /;[ \t]*$/) {
		first = decl != "" ? FNR - 1 : FNR
		head = "#line " first " \"" FILENAME "\""
		if (decl != "")
			head = head "\n" decl
		head = head "\n" $0
		state = 1
	}
	# e.g. "static noinline_for_stack" or "noinline": specifiers only
	decl = ($0 ~ /^[a-z_][a-z_ \t]*$/) ? $0 : ""
}

END {
	bad = 0
	for (i = 1; i <= n; i++) {
		if (count[names[i]] != 1) {
			printf "kfunc.awk: %s: %d definitions of %s\n", FILENAME,
			       count[names[i]], names[i] > "/dev/stderr"
			bad = 1
		}
	}
	exit bad
}

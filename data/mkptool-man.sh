#!/bin/sh
# Writes the manual page of mkptool, in roff, to standard output: its
# general help and then the help of every command it lists, so the page
# always describes the commands of the mkptool it was made from.
#   mkptool-man.sh MKPTOOL VERSION
set -eu
tool="$1"
version="$2"

# Help text to roff. Escapes the backslash, the minus, quotes and a leading
# control character, then gives the text man page structure:
#   "Usage: ..." and its indented continuation   one filled paragraph
#   "  TERM   description" and deeper lines        a tagged paragraph (.TP)
#   "- item" and its indented continuation       an indented paragraph
#   other indented lines (examples)              kept as they are
#   empty line                                   a new paragraph
# Plain lines are filled into paragraphs.
roff() {
  sed -e 's/\\/\\e/g' \
      -e 's/-/\\-/g' \
      -e "s/'/\\\\(aq/g" \
      -e 's/`/\\(ga/g' \
      -e 's/^\./\\\&./' |
  awk '
    function strip(s) { sub(/^[ \t]+/, "", s); return s }
    function nosentence(s) { return s ~ /[.!?]$/ ? s "\\&" : s }
    # A run of tagged paragraphs is set without space between its rows.
    function leave_rows() { if (state == "row") print ".PD" }
    $0 == "" { leave_rows(); print ".PP"; state = "blank"; next }
    # A usage line ending in "..." ends no sentence.
    /^Usage:/ { leave_rows(); print nosentence($0); state = "usage"; next }
    /^[ \t]/ && state == "usage" { print nosentence(strip($0)); next }
    /^[ \t]/ && state == "item" { print strip($0); next }
    /^   / && state == "row" { print strip($0); next }
    /^  [^ ]/ && match(substr($0, 3), /[^ ]  +[^ ]/) {
      if (state != "row") print ".PD 0"
      print ".TP"
      print "\\fB" substr($0, 3, RSTART) "\\fP"
      print substr($0, 3 + RSTART + RLENGTH - 2)
      state = "row"; next
    }
    /^\\\- / { leave_rows(); print ".IP \\- 2"; print substr($0, 4); state = "item"; next }
    /^[ \t]/ {
      leave_rows()
      if (state == "row" || state == "item") print ".PP"
      print; state = "example"; next
    }
    {
      leave_rows()
      if (state == "row" || state == "item") print ".PP"
      else if (state == "usage" || state == "example") print ".br"
      print; state = "text"
    }
    END { leave_rows() }'
}

commands=$("$tool" --help | sed -n 's/^  \([a-z][a-z0-9_-]*\) .*/\1/p')
if [ -z "$commands" ]; then
  echo "mkptool-man.sh: $tool --help lists no commands" >&2
  exit 1
fi

cat <<HEAD
.TH MKPTOOL 1 "" "mkpt $version" "User Commands"
.SH NAME
mkptool \\- the command\\-line companion of mkpt, the MKP protocol test bench
.SH SYNOPSIS
.B mkptool
.I COMMAND
.RI [ OPTIONS ]
.RI [ ARGS ]
.br
.B mkptool
.I COMMAND
.B \\-\\-help
.br
.B mkptool
.B \\-\\-help
.SH DESCRIPTION
.ad l
.nh
HEAD
"$tool" --help | roff
echo ".SH COMMANDS"
for c in $commands; do
  echo ".SS $(printf %s "$c" | sed 's/-/\\-/g')"
  "$tool" "$c" --help | roff
done
cat <<'TAIL'
.SH "SERIAL PORTS"
\fBCOM\fP\fIn\fP names \fB/dev/ttyS\fP(\fIn\fP\-1); any other device path, such as
\fB/dev/ttyUSB0\fP, a \fB/dev/serial/by\-id/\fP name or a pseudo\-terminal, is
used as given.
To open a serial port the account must be a member of the \fBdialout\fP group
(\fBsudo usermod \-aG dialout "$USER"\fP, then log in again).
.SH FILES
.TP
.B mkpt.ini
Port settings written by \fBmkpt\fP(1), read with \fB\-\-settings\fP.
.SH "SEE ALSO"
.BR mkpt (1)
TAIL

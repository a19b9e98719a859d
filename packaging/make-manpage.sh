#!/bin/sh
# Makes a program's manual page from its own --help and --version with
# help2man, when the program is built, so that the page says what the
# program says. Usage: make-manpage.sh HELP2MAN PROGRAM SUMMARY INCLUDE OUT.gz
set -eu
help2man=$1 program=$2 summary=$3 include=$4 output=$5
page=${output%.gz}

# --help never opens a window; keep the toolkit off any display all the same.
QT_QPA_PLATFORM=offscreen "$help2man" --no-info --name="$summary" --include="$include" \
    --output="$page" "$program"
# The exit statuses are a section of their own in a manual page, where a
# reader looks for them, not a paragraph of the description.
sed -i 's/^\.SS "Exit status:"$/.SH "EXIT STATUS"/' "$page"
gzip -9nf "$page"

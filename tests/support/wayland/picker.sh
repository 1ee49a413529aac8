#!/bin/sh
# The portal's picker in tests: notes each time it is shown, and chooses the one output unless
# the test asked it to decline.
echo shown >> "$1"
[ -e "$2" ] || echo HEADLESS-1

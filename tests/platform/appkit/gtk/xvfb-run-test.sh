#!/bin/sh
# Runs one test process on its own virtual display (1440x900x24, black root). The first display
# number is spread so that parallel test processes seldom race for the same one.
export NO_AT_BRIDGE=1
export GTK_IM_MODULE=gtk-im-context-simple
unset WAYLAND_DISPLAY
n=$(( ($$ % 400) + 100 ))
exec xvfb-run -a -n "$n" -s "-screen 0 1440x900x24 -br -nolisten tcp" "$@"

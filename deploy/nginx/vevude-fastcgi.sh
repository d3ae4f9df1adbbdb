#!/bin/sh
# Starts one VEVUDE FastCGI worker on a TCP port with spawn-fcgi, in the
# folder that holds its config.ini, and keeps it in the foreground (for a
# service manager, which restarts it when it ends):
#   vevude-fastcgi.sh PORT [FOLDER] [ADDRESS]
# VEVUDE_MAX_REQUESTS, when set, makes the worker start afresh after that
# many requests (a fresh image of the program in the same process, on the
# same port, losing no request).
set -eu
port=${1:?usage: vevude-fastcgi.sh PORT [FOLDER] [ADDRESS]}
folder=${2:-/srv/vevude}
address=${3:-127.0.0.1}
exec spawn-fcgi -a "$address" -p "$port" -d "$folder" -n -- "$folder/VEVUDE"

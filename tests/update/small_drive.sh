#!/bin/sh
# A small drive for the full-disk rows: a tmpfs of SIZE (100m unless given) mounted at DIR and mapped
# as drive LETTER (r unless given) of the build's Wine prefix. Where the host does not let the tests
# mount (no privilege, a container), no drive is mapped and those rows skip, saying why.
#   small_drive.sh mount|unmount DIR PREFIX [LETTER SIZE]
set -u
action=$1 dir=$2 prefix=$3 letter=${4:-r} size=${5:-100m}
link="$prefix/dosdevices/$letter:"
case "$action" in
  mount)
    rm -f "$link"
    mkdir -p "$dir"
    if ! mountpoint -q "$dir" && ! mount -t tmpfs -o "size=$size" "brivon_small_drive_$letter" "$dir" 2>/dev/null; then
      echo "small drive: the host does not allow mounting a tmpfs; its rows skip"
      exit 0
    fi
    find "$dir" -mindepth 1 -delete
    if [ ! -d "$prefix/dosdevices" ]; then
      echo "small drive: no Wine prefix at $prefix; its rows skip"
      exit 0
    fi
    ln -s "$dir" "$link"
    echo "small drive: $dir as $letter:"
    ;;
  unmount)
    rm -f "$link"
    if mountpoint -q "$dir"; then umount "$dir"; fi
    ;;
esac
exit 0

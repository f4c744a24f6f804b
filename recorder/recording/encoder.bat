#!/bin/sh
# KelvoRecorder's MP3 encoder: started after every MP3 recording, in the folder that holds
# soundfiles/, as   encoder.bat BITRATE WAVNAME MP3NAME   (bit rate in kbit/s).
# Replace it with your own script to use another encoder or to remove the WAV afterwards.
set -eu
if [ "$#" -ne 3 ]; then
    echo "usage: encoder.bat BITRATE WAVNAME MP3NAME" >&2
    exit 2
fi
exec lame --quiet -b "$1" "$2" "$3"

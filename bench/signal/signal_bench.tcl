# Prints the time ratio of `urvane segment` + `periodicity` to SPTK's pitch
# (RAPT) over the same half minute of 8 kHz speech.
package require Wave
package require Mx
package require Feature
package require Urvane

set sptk /usr/libexec/sptk/bin
set dir [file join [pwd] signal_bench.tmp]
file mkdir $dir
set text [string repeat "The rain in Spain stays mainly in the plain, said the old man to the children. " 6]
exec espeak-ng -w $dir/s.wav $text
exec sox $dir/s.wav -r 8000 -b 16 -e signed -c 1 -t raw $dir/s.raw
set seconds [expr {[file size $dir/s.raw] / 16000.0}]

set t0 [clock microseconds]
exec sh -c "$sptk/x2x +sf < $dir/s.raw | $sptk/pitch -a 0 -s 8 -p 80 -L 60 -H 400 -o 1 > $dir/f0.bin"
set peer [expr {([clock microseconds] - $t0) / 1e6}]

set f [open $dir/s.raw rb]
set w [wave readpipe -linear -maxsize 10000000 -rate 8000 $f]
close $f
set fe [feature initialize {mel} -samplerate 8000]
set t0 [clock microseconds]
set p [urvane periodicity $fe [fwave fromwave $w] [urvane segment $fe $w]]
set ours [expr {([clock microseconds] - $t0) / 1e6}]
puts [format "periodicity: %.1f s of speech, ours %.3f s, SPTK pitch %.3f s, ratio %.2f" $seconds $ours $peer \
          [expr {$ours / $peer}]]

file delete -force $dir

# Draws a 10-minute spectrogram of 16 kHz sound with ltwod and with snack's
# spectrogram canvas item: the whole 10 minutes in a 1000-pixel window, then
# scrolled 100 pixels a step at 10 ms a pixel; prints both times and the
# ratio. ltwod shows a matrix made beforehand (numpy, 256-point frames every
# 10 ms); snack computes its own, which it does once per sound and caches.
# Needs sox, snack, /usr/bin/python3 with numpy and a display (xvfb-run).
package require Tk
package require Lyre
package require Mx 1.0
package require snack

set dir [lindex $argv 0]
set seconds 600
set steps 100
set file [file join $dir tenmin.wav]
set raw [file join $dir tenmin.f32]
if {![file exists $file]} {
    exec sox -n -r 16000 -b 16 -c 1 $file synth $seconds sine 200-3000 synth $seconds tremolo 3 70
}
if {![file exists $raw]} {
    exec /usr/bin/python3 -c {
import sys, wave, numpy as np
w = wave.open(sys.argv[1]); x = np.frombuffer(w.readframes(w.getnframes()), dtype='<i2').astype(np.float64)
hop, n = 160, 256
frames = np.lib.stride_tricks.sliding_window_view(x, n)[::hop] * np.hamming(n)
db = 10 * np.log10(np.abs(np.fft.rfft(frames))[:, :128] ** 2 + 1)
db.astype('<f4').tofile(sys.argv[2])
print(db.shape[0])
} $file $raw
}
set columns [expr {[file size $raw] / 4 / 128}]
set m [mx fread $raw X -r $columns -c 128]
set ::env(TOVIK_PREFIX) [file join $dir prefix]
file mkdir [file join $dir prefix pkg lyre_1.0]
file copy -force [file join [file dirname [info script]] .. .. src rezovad pkgs lyre labelclasses.dat] \
    [file join $dir prefix pkg lyre_1.0 labelclasses.dat]
wm geometry . +0+0

proc timeIt {script} {
    set t0 [clock microseconds]
    uplevel 1 $script
    expr {([clock microseconds] - $t0) / 1000.0}
}

set whole(ltwod) [timeIt {
    ltwod .t $m -colpersecond 100 -resolution [expr {$seconds * 1000.0 / 1000}] -width 1000 -height 128 -displaycolumnpeaks 0
    pack .t
    update
}]
set scroll(ltwod) [timeIt {
    .t configure -resolution 10
    update
    for {set i 0} {$i < $steps} {incr i} {
        .t xview scroll 100 units
        update
    }
}]
destroy .t

snack::sound s -load $file
set whole(snack) [timeIt {
    canvas .c -width 1000 -height 128 -highlightthickness 0
    pack .c
    .c create spectrogram 0 0 -sound s -height 128 -pixelspersecond [expr {1000.0 / $seconds}] -fftlength 256 -winlength 256 -tags sp
    update
}]
set scroll(snack) [timeIt {
    for {set i 0} {$i < $steps} {incr i} {
        set a [expr {$i * 16000}]
        .c itemconfigure sp -pixelspersecond 100 -start $a -end [expr {$a + 160000 - 1}]
        update
    }
}]

foreach k {whole scroll} {
    upvar 0 $k v
    puts [format "%-7s ltwod %9.1f ms   snack %9.1f ms   snack/ltwod %.2f" $k $v(ltwod) $v(snack) \
        [expr {$v(snack) / max($v(ltwod), 0.001)}]]
}
exit

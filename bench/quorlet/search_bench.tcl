# rp search throughput: frames per second over 10,000 frames of 70 phone
# categories (50 utterances of 200 frames, priors and labels of one stem),
# against numpy ranking the same single-precision frames in the same run.
#
#   tclsh search_bench.tcl OBWRITE [frames]
package require Quorlet 1.0

lassign $argv obwrite total
if {$total eq ""} { set total 10000 }
set perUtt 200
set K 70
set dir [file join [pwd] qsearchbench]
file delete -force $dir
file mkdir $dir
cd $dir

# 69 phone labels and the garbage label: 70 categories.
set phones {i: I E @ I_x u_x & u U ^ > A >r 3r &r ei aI >i aU oU ph th kh b d g m n N th_( d_( d(
    f T s S h v D z Z tS dZ l 9r j w m= n= N= l= pc tc kc bc dc gc tSc dZc ks .pau .unk \\> \\3r \\>i
    th_\\( d_\\( d\\( \\9r}
set phones [lrange $phones 0 68]
lappend phones .garbage
exec $obwrite phones.rr __rr__ hmm/description << [join $phones \n]
expr {srand(5)}
set priors {}
for {set k 0} {$k < $K - 1} {incr k} { lappend priors [expr {0.5 + rand()}] }
exec $obwrite phones.aprior aprior arrayF 1 [expr {$K - 1}] << $priors
set f [open phones.gra w]
puts $f "\[phones\]\n(*WORD +WORD)\nWORD (hh eh l ow) (b ay) (s iy) (t uw) (k ae t)"
close $f

set utts [expr {$total / $perUtt}]
set all [open frames.txt w]
for {set u 0} {$u < $utts} {incr u} {
    set rows {}
    for {set i 0} {$i < $perUtt} {incr i} {
        set row {}
        for {set k 0} {$k < $K} {incr k} { lappend row [format %.6g [expr {1e-4 + rand()}]] }
        lappend rows [join $row]
    }
    exec $obwrite utt$u.ob wg arrayF $perUtt $K << [join $rows \n]
    puts $all [join $rows \n]
}
close $all

rp init phones.gra
# The stem's tables are read once, outside the timing.
rp search obfile utt0.ob nnetfilestem phones probbeam 2
set frames [expr {$utts * $perUtt}]
foreach {what words} {
    {parse, 3 labels a frame} {probbeam 2 tcl 1}
    {beam file, 3 labels a frame} {probbeam 2 printsearchbeam 1}
} {
    # The best of five passes, as numpy's figure below is.
    set s Inf
    for {set pass 0} {$pass < 5} {incr pass} {
        set t0 [clock microseconds]
        for {set u 0} {$u < $utts} {incr u} { rp search obfile utt$u.ob {*}$words }
        set s [expr {min($s, ([clock microseconds] - $t0) / 1e6)}]
    }
    puts [format "rp search (%s): %d frames in %.3f s, %.0f frames/s" $what $frames $s [expr {$frames / $s}]]
    lappend rates [expr {$frames / $s}]
}
rp uninit

set py {
import sys, time
import numpy as np
K = int(sys.argv[2])
wg = np.loadtxt(sys.argv[1], dtype=np.float32).reshape(-1, K).astype(np.float64)
pri = np.loadtxt(sys.argv[3], dtype=np.float32).astype(np.float64).ravel()
prior = np.append(pri, pri.sum() / (K - 2))
best = None
for _ in range(5):
    t0 = time.perf_counter()
    score = wg / prior
    value = np.log(score / score.sum(axis=1, keepdims=True))
    order = np.argsort(-value, axis=1)[:, :3]
    t = time.perf_counter() - t0
    best = t if best is None else min(best, t)
print("%d %.6f" % (wg.shape[0], best))
}
set f [open priors.txt w]; puts $f $priors; close $f
if {[catch {exec /usr/bin/python3 -c $py frames.txt $K priors.txt} out]} {
    puts "numpy: not available ($out)"
} else {
    lassign $out n s
    puts [format "numpy ranking (division, log, argsort): %d frames in %.3f s, %.0f frames/s" $n $s [expr {$n / $s}]]
    puts [format "rp search against numpy: %.2fx (parse), %.2fx (beam file)" \
        [expr {[lindex $rates 0] / ($n / $s)}] [expr {[lindex $rates 1] / ($n / $s)}]]
}
cd ..
file delete -force $dir

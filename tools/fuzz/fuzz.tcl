# Random calls of a package's commands with hostile arguments, for a
# sanitizer build; kept out of ctest. Each call is written to last-PKG.log
# before it runs, so the log's last line names the call that brought the
# process down.
#
#   tclsh fuzz.tcl PKG SEED COUNT ?SETUP?
#
# Without SETUP the commands are those PKG adds, their sub-commands read from
# the "must be ..." message. A SETUP script may fill `calls` itself, add
# objects to `objs`, words to `nasty`, and set `refresh` to a script that is
# run now and then to make fresh objects.
lassign $argv pkg seed count setup
expr {srand($seed)}
set before [info commands]
catch {package require $pkg}
set calls {}
proc subcommands {c} {
    set subs {}
    if {[catch {$c zzbogus} msg] && [regexp {must be (.*)$} $msg -> rest]} {
        foreach s [regsub -all {,|or } $rest " "] { lappend subs $s }
    }
    return $subs
}
foreach c [info commands] {
    if {$c in $before || [string match tcl* $c] || [string match pkg_* $c] || [string match auto_* $c]} continue
    set subs [subcommands $c]
    if {[llength $subs]} { foreach s $subs { lappend calls [list $c $s] } } else { lappend calls [list $c] }
}
set nasty {0 -1 1 2 -2 3 10 1e9 -1e9 2147483647 -2147483648 9999999999 NaN nan Inf -Inf 0.5 -0.5
    1e-30 1e308 1.5e-320 0x10 -0 +5 {} { } abc -abc -- x%sy %n%n%n "\{" "\x00"
    -begin -end -rate}
set objs {}
set here [file dirname [file normalize [info script]]]
if {$setup ne ""} { set calls {}; source $setup }
set log [open last-$pkg.log w]
puts "calls: [llength $calls]"
set t0 [clock milliseconds]
for {set i 0} {$i < $count && [clock milliseconds] - $t0 < 60000} {incr i} {
    set call [lindex $calls [expr {int(rand() * [llength $calls])}]]
    set a {}
    for {set k [expr {int(rand() * 6)}]} {$k > 0} {incr k -1} {
        set pool [expr {rand() < 0.45 && [llength $objs] ? $objs : $nasty}]
        lappend a [lindex $pool [expr {int(rand() * [llength $pool])}]]
    }
    set full [concat $call $a]
    puts $log $full
    flush $log
    # Names of new objects join the pool.
    if {![catch {uplevel #0 $full} res] && [llength $res] == 1 && [regexp {^[a-zA-Z/]+\d+$} $res]
        && $res ni $objs && [llength $objs] < 60} {
        lappend objs $res
    }
    if {rand() < 0.02 && [info exists refresh]} { eval $refresh }
}
puts "done $i"

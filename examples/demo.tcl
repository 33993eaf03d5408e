# The demo application: one spoken-language turn on a machine without a
# sound card, step by step as the packages allow.
#
#   make demo            (or: build/bin/tovik examples/demo.tcl)

package require Thing 1.0

# A dialogue turn is an object: it keeps what was heard and what it answers.
Thing create Turn
Turn method init {heard} {
    $thing var words reply
    set words $heard
    set reply ""
}
Turn method heard {} { $thing var words; return $words }
Turn method answer {text} { $thing var reply; set reply $text }
Turn method report {} {
    $thing var words reply
    return "[$thing info isa] $thing: heard \"$words\", answers \"$reply\""
}

Turn create turn1 {i want to fly to new york}
turn1 answer {which day do you want to fly}
puts [turn1 report]
puts "methods of a turn: [turn1 info methods]"
turn1 destroy

# The turn speaks its answer: synthesis, an echo, a beep, the wave taken over
# and written to a file (the file once the wave package is there).
source [file join [file dirname [info script]] speak.tcl]
set out [file join [pwd] demo_reply.wav]
puts "spoken answer: [speak {Which day do you want to fly?} $out] (samples rate)"

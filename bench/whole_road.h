// The whole road of each alert kind that has a first window, at the screen's own size: brivon.exe
// from its start to that window on the screen and to it fully painted, beside its floor: the
// paint floor program of the same build (paint_floor.cpp), started the same way from the same kind
// of program folder, from its start to its exit; and its window floor, the same program that also
// shows a blank full-screen window once everything arrived, from its start to that window filled.
#pragma once

namespace brivon::bench {

// Prints one row per kind (medians of the rounds) and whether every kind is painted within 100 ms
// of its floor. Non-zero, after saying why on stderr, when a run never reached what it times: a
// window whose last drawing never showed on the screen, a floor that did not fetch everything.
// GDI+ must be running.
int WholeRoad(int rounds);

}  // namespace brivon::bench

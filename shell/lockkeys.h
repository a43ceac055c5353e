// The state of the lock keys (Caps Lock, Num Lock, Scroll Lock) for the status bar.
//
// Qt tells a program nothing about lock keys, so they are read from the keyboard LEDs that
// Linux exposes under /sys/class/leds (readable by every user). That covers keyboards of this
// machine on any display system; a remote or virtual display has no LEDs there, and the
// indicators then stay off.
#pragma once

enum class LockKey {
    Caps,
    Num,
    Scroll
};

// True when some keyboard shows the key's LED lit.
bool IsLockKeyOn(LockKey key);

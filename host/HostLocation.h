#pragma once

// Which CAD folders, as read from the registry, the elevated setup may copy
// into. Any program of the user can write a "Location", so it must not be
// able to send the copies into the system's folders or, being relative, into
// the working folder of an elevated process (normally the system folder).

enum HostLocationCheck {
    kLocationAllowed,
    kLocationRefused,
    // A call the check needs failed: the folder is neither copied into nor
    // passed over in silence.
    kLocationUnchecked,
};

// Allowed if location is an absolute folder ("X:\..." or "\\server\share...")
// outside the Windows folder, by its text and, where it exists, by where
// the file system leads it; a share must be an ordinary one (no '$') on
// another machine.
HostLocationCheck CheckHostLocation(const char* location);
bool IsHostLocationAllowed(const char* location);

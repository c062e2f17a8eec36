#include "ui/VersionCaption.h"

CString FormatVersionCaption(int buildStamp) {
    const int major = buildStamp / 10000;
    const int minor = (buildStamp % 10000) / 100;
    const int patch = buildStamp % 100;

    CString first;
    if (minor < 10)
        first.Format("批打印软件 V%d.0%d", major, minor);
    else
        first.Format("批打印软件 V%d.%d", major, minor);

    CString caption;
    if (patch < 10)
        caption.Format("%s.0%d", first.GetString(), patch);
    else
        caption.Format("%s.%d", first.GetString(), patch);
    return caption;
}

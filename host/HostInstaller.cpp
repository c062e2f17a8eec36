#include "host/HostInstaller.h"

CHostInstaller::CHostInstaller() : valueName("AcadLocation") {}

void CHostInstaller::ScanHosts() {}

#include "OVCommon/OVCommon.h"

std::unique_ptr<TFileLocalizer> Localizer;

void StartOVCommon() { Localizer = std::make_unique<TFileLocalizer>(ProgramFolder + "OvLng"); }

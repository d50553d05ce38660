#include "support/OpenCom1.h"

OpenCom1::OpenCom1(const QString& settings) {
    if (!settings.isEmpty()) comm.setSettings(settings);
    comm.setPortOpen(true);
}

#include "controls/ui/Resources.h"

#include <QtGlobal>

#include <mutex>

static void InitQrc()
{
    Q_INIT_RESOURCE(mirelhelper);
}

void InitMirelResources()
{
    static std::once_flag once;
    std::call_once(once, InitQrc);
}

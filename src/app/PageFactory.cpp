#include "app/PageFactory.h"

CPageFactory& PageFactory()
{
    static CPageFactory factory;
    return factory;
}

// poweroff_charger: started with no arguments while the switched-off handset charges.
#include "charger.h"

int main()
{
    // Owned by the process: the threads use it until the very end, so it is never freed.
    static charger* program = new charger(linux_platform());
    return charger_main(*program);
}

// daling-emergency: the emergency broadcast's command alone, for a
// fire-alarm relay or a shortcut that must be heard at once.
#include "emergencyclient.h"

int main(int argc, char **argv)
{
    return emergencyclient::main(std::vector<std::string>(argv + 1, argv + argc), true);
}

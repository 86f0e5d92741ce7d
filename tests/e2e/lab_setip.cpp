// Moves one Vantor to a new address the way Vantor Manager does, on the default broadcast
// (255.255.255.255:4365): lab_setip SERIAL NEW_ADDRESS. Prints the status; exit 0 on success.

#include <halvik/statuscode.h>
#include <halvik/vantormanager.h>

#include <exception>
#include <iostream>

int main(int argc, char** argv)
{
    if (argc != 3) {
        std::cerr << "usage: lab_setip SERIAL NEW_ADDRESS" << std::endl;
        return 2;
    }
    try {
        halvik::VantorManager manager;
        const int status = manager.SetVantorIP(argv[1], argv[2]);
        std::cout << halvik::statusCodeText(status) << std::endl;
        return status == halvik::status::NoError ? 0 : 1;
    } catch (const std::exception& e) {
        std::cerr << "lab_setip: " << e.what() << std::endl;
        return 1;
    }
}

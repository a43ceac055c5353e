// packtool: the desktop program.
#include "shell/app.h"

int main(int argc, char** argv)
{
    CZUNPackApp theApp(argc, argv);
    return theApp.Run();
}

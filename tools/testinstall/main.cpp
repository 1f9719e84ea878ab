// vxinstall: sets up an installation in the Wine prefix for this architecture.
//   vxinstall install STAGE FOLDER [--full] [--no-distilled] [--policy N] [--module DLL]...
//   vxinstall hook FOLDER N DLL
//   vxinstall register DLL | unregister DLL
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "testinstall.h"

namespace {

int Usage() {
    std::fprintf(stderr,
                 "usage: vxinstall install STAGE FOLDER [--full] [--no-distilled] [--policy N] [--module DLL]...\n"
                 "       vxinstall hook FOLDER N DLL\n"
                 "       vxinstall register DLL | unregister DLL\n");
    return 2;
}

std::string Folder(std::string folder) {
    if (!folder.empty() && folder.back() != '\\') folder += '\\';
    return folder;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 3) return Usage();
    std::string command = argv[1], error;
    bool ok = false;
    if (command == "install" && argc >= 4) {
        vxinstall::Installation inst;
        inst.folder = Folder(argv[3]);
        for (int i = 4; i < argc; ++i) {
            if (!std::strcmp(argv[i], "--full")) inst.advanced.fullTrace = true;
            else if (!std::strcmp(argv[i], "--no-distilled")) inst.advanced.distilledTrace = false;
            else if (!std::strcmp(argv[i], "--policy") && i + 1 < argc) inst.advanced.filePolicy = std::atoi(argv[++i]);
            else if (!std::strcmp(argv[i], "--module") && i + 1 < argc) inst.main.modules.push_back(argv[++i]);
            else return Usage();
        }
        ok = vxinstall::CopyStage(argv[2], inst.folder, &error) && vxinstall::WriteSettings(inst, &error) &&
             vxinstall::WriteAppPath(inst.folder, &error);
        if (ok) vxinstall::ClearTraceFiles(inst.folder);
    } else if (command == "hook" && argc == 5) {
        ok = vxinstall::HookComponent(Folder(argv[2]), std::atoi(argv[3]), argv[4], &error);
    } else if ((command == "register" || command == "unregister") && argc == 3) {
        ok = vxinstall::RegisterComponent(argv[2], command == "unregister", &error);
    } else {
        return Usage();
    }
    if (!ok) {
        std::fprintf(stderr, "vxinstall: %s\n", error.c_str());
        return 1;
    }
    return 0;
}

#include "cli/arguments.h"

#ifdef _WIN32
#include <windows.h>

#include <shellapi.h>

#include <filesystem>

#include "protocol/image_file.h"
#endif

namespace vq::cli {

std::vector<std::string> utf8_arguments(int argc, char** argv) {
#ifdef _WIN32
    (void)argc, (void)argv;
    SetConsoleOutputCP(CP_UTF8);
    int count = 0;
    wchar_t** wide = CommandLineToArgvW(GetCommandLineW(), &count);
    std::vector<std::string> args;
    for (int i = 0; i < count; ++i) args.push_back(utf8_from_path(std::filesystem::path(wide[i])));
    LocalFree(wide);
    return args;
#else
    return {argv, argv + argc};
#endif
}

}  // namespace vq::cli

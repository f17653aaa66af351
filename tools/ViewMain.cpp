// lanquill-net-view: `lanquill-net view [/domain:WORKGROUP]`, started by lanquill-net.
#include "tools/Commands.h"

#include <string>
#include <vector>

int main(int argc, char** argv) {
    // runView takes the arguments as `lanquill-net view ...` has them.
    std::string view = "view";
    std::vector<char*> arguments{argv[0], view.data()};
    for (int i = 1; i < argc; ++i)
        arguments.push_back(argv[i]);
    arguments.push_back(nullptr);
    return lanquill::tools::runListing(static_cast<int>(arguments.size()) - 1, arguments.data());
}

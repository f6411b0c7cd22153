// clefwork-judge: a recorded take judged as Clefwork judges live playing (listen/take_judge.h).
#include "listen/take_judge.h"

#include <iostream>
#include <string>
#include <vector>

int main(int argc, char** argv) {
    std::vector<std::string> args(argv + 1, argv + argc);
    return listen::runTakeJudge(args, std::cout, std::cerr);
}

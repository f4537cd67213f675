// The run of the tool: start-up, the two run modes, the output of every input.
#pragma once

int trevalon_main(int argc, char* argv[]);

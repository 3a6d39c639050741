// quillmar-db: inspect, export, check and compact Jet databases.
#include <cstdio>

#include "tools/quillmar-db/cli.h"

int main(int argc, char** argv) { return quillmar_db::run_cli(argc, argv, stdout, stderr, stdin); }

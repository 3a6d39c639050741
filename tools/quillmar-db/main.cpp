// quillmar-db: inspect, export, check and compact Jet databases.
#include <cstdio>

#include "engine/compact/allocator_arenas.h"
#include "tools/quillmar-db/cli.h"

int main(int argc, char** argv) {
  jet::limit_allocator_arenas();
  return quillmar_db::run_cli(argc, argv, stdout, stderr, stdin);
}

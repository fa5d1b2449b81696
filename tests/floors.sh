#!/usr/bin/env bash
# The floors of the source tree, checked on every test run: support/ reaches
# nothing above it, games/ only support/, the books are reached through
# books/booklist.h alone, nothing but the dialogues reaches frontend/ (the
# FrontEnd port and the settings live in engine/), and the tablebases never
# reach the root or the driver. The one include that runs up is the search
# driver's door to the books.
set -u
cd "${1:-$(dirname "$0")/..}" || exit 2
status=0
check() {  # description, then grep -rn output (empty: fine)
  if [ -n "$2" ]; then
    echo "$1:"
    echo "$2"
    status=1
  fi
}
includes() { grep -rnE "#include \"$1" --include='*.h' --include='*.cpp' "${@:2}" 2>/dev/null; }

check "support/ reaches above it" "$(includes '(engine|frontend|tablebase|games|books)/' support)"
check "games/ reaches beyond support/" "$(includes '(engine|frontend|tablebase|books)/' games)"
check "books reached past books/booklist.h" \
  "$(includes 'books/' engine frontend tablebase | grep -v 'books/booklist\.h')"
check "engine/ reaches books/ elsewhere than from the driver" \
  "$(includes 'books/' engine | grep -v '^engine/driver\.cpp:')"
check "engine/ reaches the front ends" "$(includes 'frontend/' engine)"
check "tablebase/ reaches the root or the driver" "$(includes 'engine/(root|driver)\.h' tablebase)"
check "tablebase/ reaches the front ends or the books" "$(includes '(frontend|books)/' tablebase)"
check "books/ reaches the front ends" "$(includes 'frontend/' books)"
check "books/ reaches the engine elsewhere than from the book list" \
  "$(includes '(engine|tablebase)/' books | grep -vE '^books/booklist\.(h|cpp):')"
check "the FrontEnd port reaches the search" \
  "$(grep -nE '#include "engine/(search|driver|root|smp|searchstate|timeman)\.h"' engine/frontendport.h)"
exit $status

#pragma once
// Synthetic report pages for the extraction benchmark.
#include <cstddef>

#include "text/text_types.h"

namespace sellmeter::bench {

// A realistic page of about `bytes` bytes: the four figures, then product blocks of about
// 5 KB of markup (attributes, links, Chinese titles and descriptions), each a picture and six
// cells on their own lines.
Text RealisticPage(std::size_t bytes);

// Pictures each followed by only three cells: every match borrows the next block's cells.
Text ShortBlocksPage(std::size_t bytes);

// Pictures whose cells all continue on the next line: no cell closes on its own line.
Text OpenCellsPage(std::size_t bytes);

}  // namespace sellmeter::bench

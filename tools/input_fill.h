#pragma once
// Input values for a run: `NAME=1,2,3` (numbers), `NAME=@FILE.npy` (a numpy
// array) or `NAME=@FILE` with any other extension (raw little-endian bytes),
// and a deterministic default for every input not given.
#include <string>
#include <vector>

#include "cli_error.h"
#include "file_io.h"
#include "session.h"

namespace tessary::cli {

struct FilledInput {
  ByteBuffer bytes;
  std::string origin;  // how it was filled, for the run report
};

// The default value of element i of an input: 1 + (i mod 8), converted to
// the element type, so [1, 4] gets 1, 2, 3, 4 and every run is reproducible.
double default_element(std::size_t index);

// Fills one buffer per input port, in port order, from the --input arguments.
// Refuses an --input for a name the program does not have, a name given twice, a
// value count that is neither 1 (fills the tensor) nor the element count, an
// .npy array with another element count, and a raw file of another length.
CliResult<std::vector<FilledInput>> fill_inputs(const std::vector<PortInfo>& ports,
                                                const std::vector<std::string>& args);

}  // namespace tessary::cli

// The line under an error or a drawing that says why, in plain words, and what to do.
#pragma once

#include <string>

#include "driver/output_session.hpp"
#include "model/map_dataset.hpp"

namespace chizuvec {

// Why writing `output_path` failed with `status`, as far as the folder tells: it is missing, takes
// no new files, or its disk is full; the output types there are after an unsupported one. "" when
// nothing is known.
std::string write_failure_reason(WriteStatus status, const std::string& output_path);

// The parcels of the file that are not drawn and why, or "" when every parcel is kept.
std::string left_out_text(const MapDataset& dataset);

}  // namespace chizuvec

// SPDX-License-Identifier: Apache-2.0
// Kinds 39 to 41: the settings application's scheme and theme lists, and the theme preview in
// the candidate window.
#pragma once

#include "ports/candidate_window_port.h"
#include "ports/catalog_port.h"
#include "protocol/pipe_records.h"

namespace kavi::win {

bool IsCatalogRequest(RequestKind kind);

PipeResponse HandleCatalogRequest(const PipeRequest& request, CatalogPort* catalog,
                                  CandidateWindowPort* window);

}  // namespace kavi::win

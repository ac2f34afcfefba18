// Shared pieces of the exported operations separate and mute.
#pragma once

#include "engine/engine.h"

struct yyjson_mut_doc;

// Turns the stem list of ombrelt_separate into four flags in Stem
// order. NULL or "" asks for every stem. Returns 0, or -1 with the message
// in g_err when the list is not a JSON array or names no known stem.
int parse_stem_request(const char *stems_json, int wanted[N_STEMS]);

// Checks the ready flag and the out-parameter that every separating
// operation needs. Returns 0, or -1 with the message in g_err.
int check_ready(const char **json_out);

// Decodes in_path and separates it as the request says. Returns 0, or -1
// with the message in g_err.
int separate_file(const char *in_path, const SeparationRequest &request, SeparationResult *result);

// A result document whose root object holds the path of every output
// written (except `skipped`, an Output or -1), then "duration_s", "chunks"
// and "elapsed_s". Null when memory runs out; finish_json then reports it.
yyjson_mut_doc *separation_json(const SeparationResult &result, int skipped);

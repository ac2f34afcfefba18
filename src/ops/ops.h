// Shared pieces of the separate and mute operations.
#pragma once

struct yyjson_mut_doc;
struct yyjson_mut_val;

// Turns the stem list of ombrelt_separate into four flags in STEM_NAMES
// order. NULL or "" asks for every stem. Returns 0, or -1 with the message
// in g_err when the list is not a JSON array or names no known stem.
int parse_stem_request(const char *stems_json, int wanted[4]);

// Checks the ready flag and the out-parameter that every separating
// operation needs. Returns 0, or -1 with the message in g_err.
int check_ready(const char **json_out);

// A result document with an empty object as its root. Either may be null
// when memory runs out; the engine then adds no members and finish_json
// reports the missing document.
struct ResultDoc {
  yyjson_mut_doc *doc;
  yyjson_mut_val *root;
};
ResultDoc new_result_doc();

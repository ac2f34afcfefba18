// One separation of one file, watched by the board and by Ctrl-C.
#include "run_file.h"

#include "cli.h"
#include "interrupt.h"

namespace {

struct Watch {
  ProgressBoard *board;
  int slot;
};

int report(double fraction, void *self) {
  auto *watch = static_cast<Watch *>(self);
  watch->board->advance(watch->slot, fraction);
  return interrupted() ? 1 : 0;
}

double duration_of(ombrelt_session *session, const std::string &file) {
  const char *json = nullptr;
  std::vector<JsonMember> m;
  if (ombrelt_session_probe(session, file.c_str(), &json) != OMBRELT_SESSION_OK ||
      !parse_flat_object(json, m))
    return 0;  // the separation says what is wrong with the file
  return member_number(m, "duration_s");
}

}  // namespace

int run_separation(ombrelt_session *session, ProgressBoard &board, int slot,
                   const std::string &file, ombrelt_separate_options options, const char **json) {
  board.begin(slot, file, board.draws() ? duration_of(session, file) : 0);
  Watch watch{&board, slot};
  options.progress = report;
  options.progress_user_data = &watch;
  ombrelt_input input{};
  input.path = file.c_str();
  return ombrelt_session_separate(session, &input, &options, json);
}

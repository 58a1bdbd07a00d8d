#include "tests/conversion_run.h"

#include <gtest/gtest.h>

#include "tests/test_streams.h"

ConversionRun convert(const std::string& adif) {
  StreamPtr input = stream_with(adif);
  StreamPtr output = empty_stream();
  MessageLog log{};
  ConversionRun run{};
  run.records = convert_ADIF_file(input.get(), output.get(), log, &run.end);
  run.csv = stream_bytes(output.get());
  for (const MessageLine* line = log.lists[2]; line; line = line->next) {
    run.messages.insert(run.messages.begin(), line->text);
  }
  EXPECT_EQ(log.lists[0], nullptr);
  EXPECT_EQ(log.lists[1], nullptr);
  free_message_log(log);
  return run;
}

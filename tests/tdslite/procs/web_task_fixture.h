// An engine on a database file inside a private temporary directory, with
// the file root in a subdirectory of it, so that tests can look both inside
// and outside the root.
#pragma once

#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/stat.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <utility>

#include "recording_sink.h"
#include "tdslite/exec/session.h"

namespace tdslite {

class WebTaskTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string pattern = ::testing::TempDir() + "tdslite-procs-XXXXXX";
    ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
    dir_ = pattern;
    root_ = dir_ / "root";
    std::filesystem::create_directories(root_ / "sub");
    std::filesystem::create_directories(dir_ / "outside");
    Open();
  }
  void TearDown() override {
    session_.reset();
    engine_.reset();
    std::error_code ignored;
    std::filesystem::remove_all(dir_, ignored);
  }

  void Open() {
    ServerConfig config;
    config.server_name = "TESTSRV";
    config.database_path = (dir_ / "tasks.db").string();
    config.file_root = with_root_ ? root_.string() : std::string();
    std::string error;
    engine_ = Engine::Open(config, &error);
    ASSERT_TRUE(engine_) << error;
    SessionInfo info;
    info.spid = 51;
    info.login = "sa";
    session_ = engine_->NewSession(info);
    ASSERT_TRUE(session_);
  }
  void Reopen() {
    session_.reset();
    engine_->Flush();
    engine_.reset();
    Open();
  }

  // Reopens the engine as a server started without --file-root.
  void WithoutFileRoot() {
    with_root_ = false;
    Reopen();
  }

  std::string Run(std::string_view sql) { return test_support::RunBatch(*session_, sql); }

  static std::string Read(const std::filesystem::path& p) {
    std::ifstream in(p, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
  }
  static void Write(const std::filesystem::path& p, std::string_view text) {
    std::ofstream out(p, std::ios::binary);
    out << text;
  }
  // The expected page for an output file ("x.htm"). Most pages stand in the
  // standard frame, kept once in expected/frame.html: expected/body/x.html
  // holds what replaces the frame's "<!-- body -->" line. A page with a frame
  // of its own (a template, other headings) is kept whole in
  // expected/page/x.html. With TDSLITE_PROCS_UPDATE_EXPECTED set in the
  // environment, `actual` is first written as the new expected file (for
  // review before it is kept).
  static std::string Expected(const std::string& name, const std::string& actual) {
    const std::filesystem::path dir(TDSLITE_PROCS_EXPECTED);
    const auto file = std::filesystem::path(name).replace_extension(".html").filename();
    const auto [head, tail] = Frame();
    const bool framed = actual.size() >= head.size() + tail.size() && actual.starts_with(head) &&
                        actual.ends_with(tail);
    if (std::getenv("TDSLITE_PROCS_UPDATE_EXPECTED") != nullptr) {
      std::filesystem::remove(dir / (framed ? "page" : "body") / file);
      if (framed) {
        Write(dir / "body" / file,
              actual.substr(head.size(), actual.size() - head.size() - tail.size()));
      } else {
        Write(dir / "page" / file, actual);
      }
    }
    const bool has_body = std::filesystem::exists(dir / "body" / file);
    const bool has_page = std::filesystem::exists(dir / "page" / file);
    if (has_body == has_page) {
      ADD_FAILURE() << file << ": expected exactly one of body/ and page/";
      return std::string();
    }
    return has_page ? Read(dir / "page" / file) : head + Read(dir / "body" / file) + tail;
  }
  // The standard frame: what comes before and after the body line.
  static std::pair<std::string, std::string> Frame() {
    const std::string frame = Read(std::filesystem::path(TDSLITE_PROCS_EXPECTED) / "frame.html");
    const std::string marker = "<!-- body -->\n";
    const size_t at = frame.find(marker);
    if (at == std::string::npos) {
      ADD_FAILURE() << "expected/frame.html has no body line";
      return {};
    }
    return {frame.substr(0, at), frame.substr(at + marker.size())};
  }

  std::filesystem::path dir_;
  std::filesystem::path root_;
  bool with_root_ = true;
  std::unique_ptr<Engine> engine_;
  std::unique_ptr<Session> session_;
};

}  // namespace tdslite

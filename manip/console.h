// Console: where operations print their lines. Every line ends in CR LF on
// every platform. The program prints to standard output; tests capture.
#pragma once

#include <string>
#include <string_view>

namespace orvik {

class Console {
 public:
  virtual ~Console() = default;
  // Prints one line; the line end is added here.
  virtual void Line(std::string_view text) = 0;
  // Prints the program's three-line banner.
  virtual void Banner() = 0;
};

// A console that keeps what is printed, for tests and for callers that
// need the lines as text.
class CapturingConsole : public Console {
 public:
  void Line(std::string_view text) override {
    text_.append(text);
    text_.append("\r\n");
  }
  void Banner() override { text_.append("<banner>\r\n"); }
  const std::string& Text() const { return text_; }

 private:
  std::string text_;
};

}  // namespace orvik

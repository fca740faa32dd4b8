#include "shell/main_layout.h"

#include "base/cp932.h"

MainLayout initial_layout(std::int32_t width, std::int32_t height) {
  MainLayout layout = main_layout(width, height, 0);
  layout.view = {0, 0, width, height - BOTTOM_ROW_HEIGHT - 2};
  return layout;
}

MainLayout main_layout(std::int32_t width, std::int32_t height, std::int32_t selector_height) {
  MainLayout layout;
  layout.selector = {0, 0, width, height};
  layout.view = {0, selector_height + 2, width, height - selector_height - BOTTOM_ROW_HEIGHT - 4};
  layout.input = {0, height - BOTTOM_ROW_HEIGHT, width - SEND_BUTTON_WIDTH, BOTTOM_ROW_HEIGHT};
  layout.send = {width - SEND_BUTTON_WIDTH, height - BOTTOM_ROW_HEIGHT, SEND_BUTTON_WIDTH,
                 BOTTOM_ROW_HEIGHT};
  return layout;
}

std::string send_line_text(const std::string& cp932) {
  std::size_t kept = 0;
  while (kept < cp932.size()) {
    std::size_t step = is_lead_byte(static_cast<unsigned char>(cp932[kept])) ? 2 : 1;
    if (kept + step > SEND_LINE_LIMIT || kept + step > cp932.size()) break;
    kept += step;
  }
  return cp932.substr(0, kept);
}

std::size_t next_focus_index(const bool* visible, std::size_t count, std::ptrdiff_t focused) {
  for (std::size_t i = static_cast<std::size_t>(focused + 1); i < count; ++i) {
    if (visible[i]) return i;
  }
  return 0;
}

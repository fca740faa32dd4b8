// Channels: find or create ignoring case, make current, delete, the user's switch. The list, the
// current channel and the current view change only on the UI thread and only under the engine lock,
// so getcurrentchannel on a script thread never sees a channel that is being deleted.
#include "shell/channels.h"

#include <cstring>

#include "base/cp932.h"
#include "engine/engine.h"
#include "engine/value.h"
#include "platform/memory.h"

namespace {

// Names are equal ignoring the case of single-byte letters; a double-byte character compares
// exactly (its second byte may look like a letter).
bool same_channel_name(const char* a, const char* b) {
  auto fold = [](unsigned char c) { return c >= 'A' && c <= 'Z' ? c + ('a' - 'A') : c; };
  const auto* x = reinterpret_cast<const unsigned char*>(a);
  const auto* y = reinterpret_cast<const unsigned char*>(b);
  for (;;) {
    if (fold(*x) != fold(*y)) return false;
    if (*x == 0) return true;
    if (is_lead_byte(*x) && x[1] != 0) {
      if (x[1] != y[1]) return false;
      ++x;
      ++y;
    }
    ++x;
    ++y;
  }
}

// Makes room for one more pointer in a growable array; false when memory runs out.
template <typename T>
bool reserve_one(T*** items, std::int32_t count, std::int32_t* capacity) {
  if (count < *capacity) return true;
  std::int32_t wanted = *capacity < 8 ? 8 : (*capacity > INT32_MAX / 2 ? INT32_MAX : *capacity * 2);
  if (wanted <= count) return false;
  auto** grown = static_cast<T**>(alloc_block(sizeof(T*) * static_cast<std::size_t>(wanted)));
  if (grown == nullptr) return false;
  if (count > 0) std::memcpy(grown, *items, sizeof(T*) * static_cast<std::size_t>(count));
  T** old = *items;
  *items = grown;
  *capacity = wanted;
  release(&old);
  return true;
}

std::int32_t selector_index_of(AppContext* app, const Channel* channel) {
  for (std::int32_t index = 1; index < app->selector_count; ++index) {
    if (app->selector[index]->target == channel) return index;
  }
  return -1;
}

void remove_entry(AppContext* app, std::int32_t index) {
  SelectorItem* item = app->selector[index];
  std::memmove(app->selector + index, app->selector + index + 1,
               sizeof(SelectorItem*) * static_cast<std::size_t>(app->selector_count - index - 1));
  --app->selector_count;
  app->ops->selector_remove(index);
  if (item != &app->server_item) release(&item);
}

// Makes the entry at `index` and its view current, under the engine lock; shows the new view and
// hides the one it replaces.
void make_entry_current(AppContext* app, std::int32_t index) {
  ViewHandle previous = app->current_view;
  Channel* channel = nullptr;
  if (index > 0 && index < app->selector_count && app->selector[index]->kind == SELECTOR_CHANNEL)
    channel = static_cast<Channel*>(app->selector[index]->target);
  {
    EngineLockGuard engine;
    app->current_channel = channel;
    app->current_view = channel != nullptr ? channel->view : app->server_view;
  }
  app->ops->layout(app->current_view);
  app->ops->show_view(app->current_view, true);
  if (previous != nullptr && previous != app->current_view) app->ops->show_view(previous, false);
}

void free_channel(AppContext* app, Channel* channel) {
  if (channel->view != nullptr) app->ops->destroy_view(channel->view);
  release(&channel->name);
  release(&channel);
}

}  // namespace

bool channels_add_entry(AppContext* app, SelectorItem* item) {
  if (!reserve_one(&app->selector, app->selector_count, &app->selector_capacity)) return false;
  app->selector[app->selector_count++] = item;
  app->ops->selector_add(item);
  return true;
}

Channel* app_find_channel(AppContext* app, std::int32_t handle) {
  if (handle <= 0 || handle > app->handle_count) return nullptr;
  return app->handles[handle - 1];
}

ViewHandle app_view_of_handle(AppContext* app, std::int32_t handle) {
  if (handle == 0) return app->server_view;
  if (handle == -1) return app->current_view;
  Channel* channel = app_find_channel(app, handle);
  return channel != nullptr ? channel->view : nullptr;
}

std::int32_t app_channel_add(AppContext* app, const char* name) {
  Channel** tail = &app->channels;
  for (; *tail != nullptr; tail = &(*tail)->next) {
    if (same_channel_name((*tail)->name, name)) return (*tail)->handle;
  }
  // Room first, so that a channel once made always gets its handle and its entry.
  if (!reserve_one(&app->handles, app->handle_count, &app->handle_capacity) ||
      !reserve_one(&app->selector, app->selector_count, &app->selector_capacity))
    return 0;
  Channel* channel = alloc_record<Channel>();
  SelectorItem* item = alloc_record<SelectorItem>();
  if (channel == nullptr || item == nullptr || (channel->name = dup_string(name)) == nullptr) {
    if (channel != nullptr) release(&channel->name);
    release(&channel);
    release(&item);
    return 0;
  }
  channel->view = app->ops->make_view(name);
  if (channel->view == nullptr) {
    release(&channel->name);
    release(&channel);
    release(&item);
    return 0;
  }
  app->handles[app->handle_count++] = channel;
  channel->handle = app->handle_count;
  item->kind = SELECTOR_CHANNEL;
  item->target = channel;
  {
    EngineLockGuard engine;
    *tail = channel;
  }
  channels_add_entry(app, item);
  return channel->handle;
}

void app_channel_move(AppContext* app, std::int32_t handle) {
  std::int32_t index = 0;
  Channel* channel = app_find_channel(app, handle);
  if (channel != nullptr) index = selector_index_of(app, channel);
  if (index < 0) index = 0;
  app->ops->selector_select(index);
  make_entry_current(app, index);
}

void app_channel_delete(AppContext* app, std::int32_t handle) {
  Channel* channel = app_find_channel(app, handle);
  if (channel == nullptr) return;
  std::int32_t index = selector_index_of(app, channel);
  if (index > 0) remove_entry(app, index);
  if (app->current_channel == channel) {
    app->ops->selector_select(0);
    make_entry_current(app, 0);
  }
  {
    EngineLockGuard engine;
    Channel** link = &app->channels;
    while (*link != channel)
      link = &(*link)->next;
    *link = channel->next;
    app->handles[handle - 1] = nullptr;
  }
  free_channel(app, channel);
}

void app_switch_to_entry(AppContext* app, std::int32_t index) {
  if (index < 0 || index >= app->selector_count) index = 0;
  make_entry_current(app, index);
  app->ops->focus_input();
}

void channels_release_all(AppContext* app) {
  while (app->selector_count > 0)
    remove_entry(app, app->selector_count - 1);
  Channel* list = nullptr;
  {
    EngineLockGuard engine;
    list = app->channels;
    app->channels = nullptr;
    app->current_channel = nullptr;
    app->current_view = app->server_view;
    for (std::int32_t index = 0; index < app->handle_count; ++index)
      app->handles[index] = nullptr;
  }
  while (list != nullptr) {
    Channel* next = list->next;
    free_channel(app, list);
    list = next;
  }
  // The handle count stays: a handle is never given out again, even after a close.
  release(&app->selector);
  app->selector_capacity = 0;
}

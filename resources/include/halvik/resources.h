#pragma once

namespace halvik {

/// Registers the compiled-in images (":/halvik_icon.ico", ":/halvik_logo.png",
/// ":/red-on-16.png", ":/green-on-16.png"). Call once before the first use; repeated calls do
/// nothing more.
void initResources();

} // namespace halvik

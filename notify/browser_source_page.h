// The one page of the browser source (HTML, CSS and a little script, no
// framework), built into the program from resources/browser_source/page.html.
// It shows the voice members at /voice and the cards at /cards.
#pragma once

extern const char kBrowserSourcePage[];

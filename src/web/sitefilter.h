// Which sites a list shows and how many of them: the filters that /status, /status.json and
// GET /api/v1/sites share (state, tag, text) and the page (a limit and the code it starts after).
#pragma once

#include <cstddef>
#include <functional>
#include <optional>
#include <string>
#include <vector>

struct TSiteStatus;

struct SiteFilter {
    /// The longest page.
    static constexpr std::size_t MaxLimit = 1000;

    /// "", "up", "degraded", "down" or "unknown".
    std::string State;
    /// A tag, lower case; "" keeps every site.
    std::string Tag;
    /// Text any of code, name or address holds (any case), lower case; "" keeps every site.
    std::string Text;
    /// The text as given (q), for a form that shows it again.
    std::string TextGiven;
    /// The sites of a page at most; 0 every site.
    std::size_t Limit = 0;
    /// The page starts after this code ("" from the first).
    std::string After;

    /// A parameter that is none: its name and why.
    struct Refusal {
        std::string Field;
        std::string Message;
    };
    /// Keeps the sites whose code, name or address holds `text`.
    static SiteFilter OfText(const std::string& text);
    /// Reads the query fields q, state, tag, limit and after from `field` (a missing one is "").
    static std::optional<Refusal> Read(const std::function<std::string(const std::string&)>& field, SiteFilter& filter);

    /// A limit or a cursor is given: the sites come in code order, a page at a time.
    bool Paged() const { return Limit > 0 || !After.empty(); }
    /// Any of state, tag and text is given.
    bool Narrows() const { return !State.empty() || !Tag.empty() || !Text.empty(); }
    /// Whether a site of this state (StatusStateName), code, name, address and tags is kept.
    bool Keeps(const std::string& state, const std::string& code, const std::string& name, const std::string& address,
               const std::vector<std::string>& tags) const;
    bool Keeps(const TSiteStatus& site) const;
    /// The query of the page after the site `code`, with these filters: "limit=N&after=CODE&...".
    std::string NextQuery(const std::string& code) const;
};

/// Whether `text` holds `lowerPart` in any letter case.
bool HoldsText(const std::string& text, const std::string& lowerPart);

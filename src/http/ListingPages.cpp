// Shared listing pages; see ListingPages.h.
#include "http/ListingPages.h"

#include <algorithm>
#include <utility>

namespace quenloft {

ListingPages::Share::Share(std::shared_ptr<Book> book, Page page)
    : book_(std::move(book)), page_(std::move(page)) {}

ListingPages::Share& ListingPages::Share::operator=(Share&& other) noexcept {
    if (this != &other) {
        Release();
        book_ = std::move(other.book_);
        page_ = std::move(other.page_);
    }
    return *this;
}

ListingPages::Share::~Share() {
    Release();
}

// The last share of a page takes it out of the book (its bytes go with it).
void ListingPages::Share::Release() {
    if (!book_ || !page_) {
        return;
    }
    auto& pages = book_->Pages;
    auto held =
        std::find_if(pages.begin(), pages.end(), [&](const Held& h) { return h.Bytes == page_; });
    if (held != pages.end() && --held->Shares == 0) {
        book_->Bytes -= page_->size();
        *held = std::move(pages.back());
        pages.pop_back();
    }
    page_.reset();
    book_.reset();
}

ListingPages::Share ListingPages::Take(std::string page) {
    auto& pages = book_->Pages;
    auto same = std::find_if(pages.begin(), pages.end(), [&](const Held& h) {
        return h.Bytes->size() == page.size() && *h.Bytes == page;
    });
    if (same == pages.end()) {
        book_->Bytes += page.size();
        pages.push_back({std::make_shared<const std::string>(std::move(page)), 0});
        same = pages.end() - 1;
    }
    ++same->Shares;
    return Share(book_, same->Bytes);
}

size_t ListingPages::Bytes() const {
    return book_->Bytes;
}

} // namespace quenloft

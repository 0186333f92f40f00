// The listing pages on their way to clients: one copy of each page however many connections
// send it, and the bytes of all of them together, which count into the server's bound of
// what clients can make it hold. A client that never reads a page of megabytes holds a
// share of the one copy, not a copy of its own.
#pragma once

#include <cstddef>
#include <memory>
#include <string>
#include <vector>

namespace quenloft {

class ListingPages {
    struct Book;

public:
    using Page = std::shared_ptr<const std::string>;

    // A connection's share of a page; the page counts while any share of it is alive.
    class Share {
    public:
        Share() = default;
        Share(Share&& other) noexcept = default;
        Share& operator=(Share&& other) noexcept;
        Share(const Share&) = delete;
        Share& operator=(const Share&) = delete;
        ~Share();

        const Page& Bytes() const { return page_; }
        size_t Size() const { return page_ ? page_->size() : 0; }

    private:
        friend class ListingPages;
        Share(std::shared_ptr<Book> book, Page page);
        void Release();

        std::shared_ptr<Book> book_;
        Page page_;
    };

    // A share of `page`: of the copy already on its way when another connection sends the
    // same page.
    Share Take(std::string page);
    // The bytes of the pages that some share holds, each page once.
    size_t Bytes() const;

private:
    struct Held {
        Page Bytes;
        size_t Shares = 0;
    };
    struct Book {
        std::vector<Held> Pages;
        size_t Bytes = 0;
    };
    std::shared_ptr<Book> book_ = std::make_shared<Book>();
};

} // namespace quenloft

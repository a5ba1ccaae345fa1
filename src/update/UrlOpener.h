#pragma once

class QUrl;

// Hands an address to whatever shows web pages. An interface so tests can see
// what would have been opened without starting a browser.
class UrlOpener
{
public:
    virtual ~UrlOpener();

    // Returns false when the address could not be handed over.
    virtual bool open(const QUrl& url) = 0;
};

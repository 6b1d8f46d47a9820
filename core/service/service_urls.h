// Addresses of the album service. The root comes from the build
// (QUIB_SERVICE_URL); the program holds the results as constants.
#pragma once

#ifndef QUIB_SERVICE_URL
#define QUIB_SERVICE_URL "http://127.0.0.1:8642"
#endif

// Login command; the answer names the URLs of the other commands.
#define QUIB_LOGIN_URL QUIB_SERVICE_URL "/login.php"
// The service's home page (the website button).
#define QUIB_HOME_URL QUIB_SERVICE_URL "/"
// The contact page (the help button).
#define QUIB_CONTACT_URL QUIB_SERVICE_URL "/contact.php?Subject=pcuploader&Path=contact"

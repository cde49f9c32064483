-- SPDX-License-Identifier: GPL-3.0-or-later
-- Additions: a class hosted on its teacher's own computer, after classe.sql.
-- The room's computers join it with a code the teacher reads out: the code
-- is the password of one role, additions_join, for as long as the teacher
-- keeps it open, and that role may only call additions.join_class(). Over
-- TLS with channel binding, a machine in the middle learns nothing of it.
\set ON_ERROR_STOP on
SET client_min_messages = warning;

BEGIN;
SET LOCAL search_path = pg_catalog, pg_temp;
DO $$
BEGIN
    IF NOT EXISTS (SELECT FROM pg_roles WHERE rolname = 'additions_join') THEN
        CREATE ROLE additions_join LOGIN CONNECTION LIMIT 3;
    END IF;
    -- Makes the computers' roles, and nothing else: it owns join_class().
    IF NOT EXISTS (SELECT FROM pg_roles WHERE rolname = 'additions_admission') THEN
        CREATE ROLE additions_admission NOLOGIN CREATEROLE IN ROLE additions_owner;
    END IF;
END
$$;
GRANT USAGE ON SCHEMA additions TO additions_join;

-- The class this computer hosts, and the authority that signed its
-- certificate, which a computer that joins trusts from then on.
CREATE TABLE IF NOT EXISTS additions.hosting (class text NOT NULL, authority text NOT NULL);
CREATE UNIQUE INDEX IF NOT EXISTS hosting_one_row ON additions.hosting ((true));
ALTER TABLE additions.hosting OWNER TO additions_owner;

-- A computer of the room, named after its own name, with a password the
-- server makes; at most 100 in the class, not counting those removed.
CREATE OR REPLACE FUNCTION additions.join_class(p_computer text)
RETURNS TABLE (role name, password text, authority text)
LANGUAGE plpgsql SECURITY DEFINER SET search_path = pg_catalog, pg_temp
AS $$
DECLARE
    base text := 'poste_' || left(lower(regexp_replace(p_computer, '[^A-Za-z0-9]+', '_', 'g')),
                                  40);
    made text := base;
BEGIN
    IF (SELECT count(*) FROM additions.machines m
        WHERE m.role IN (SELECT rolname FROM pg_roles)) >= 100 THEN
        RAISE EXCEPTION 'la classe a déjà 100 ordinateurs' USING ERRCODE = 'check_violation';
    END IF;
    -- Never the name of a computer removed, whose answers stay.
    WHILE EXISTS (SELECT FROM pg_roles WHERE rolname = made)
          OR EXISTS (SELECT FROM additions.machines m WHERE m.role = made) LOOP
        made := base || '_' || (1 + floor(random() * 9999))::integer;
    END LOOP;
    RETURN QUERY SELECT made::name, additions.add_computer(made, h.class), h.authority
                 FROM additions.hosting h;
END
$$;
ALTER FUNCTION additions.join_class(text) OWNER TO additions_admission;
REVOKE ALL ON FUNCTION additions.join_class(text) FROM PUBLIC;
GRANT EXECUTE ON FUNCTION additions.join_class(text) TO additions_join;

COMMIT;
